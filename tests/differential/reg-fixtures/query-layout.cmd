add	HKCU\Software\BrevlinDiff\@C@\sub	/v	s	/d	text	/f
add	HKCU\Software\BrevlinDiff\@C@	/v	n	/t	REG_DWORD	/d	5	/f
query	HKCU\Software\BrevlinDiff\@C@	/s
