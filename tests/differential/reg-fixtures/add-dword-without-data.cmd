add	HKCU\Software\BrevlinDiff\@C@	/v	n	/t	REG_DWORD	/f
