add	HKCU\Software\BrevlinDiff\@C@	/v	be	/t	REG_DWORD_BIG_ENDIAN	/d	1	/f
