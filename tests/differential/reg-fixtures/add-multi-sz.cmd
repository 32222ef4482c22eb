add	HKCU\Software\BrevlinDiff\@C@	/v	m	/t	REG_MULTI_SZ	/d	a\0b\0	/f
