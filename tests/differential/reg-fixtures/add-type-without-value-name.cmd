add	HKCU\Software\BrevlinDiff\@C@	/t	REG_DWORD	/d	5	/f
