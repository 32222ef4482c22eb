add	HKCU\Software\BrevlinDiff\@C@\new	/f
