add	HKCU\Software\BrevlinDiff\@C@\\	/f
