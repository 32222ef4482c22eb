add	HKCU\Software\BrevlinDiff\@C@	/v	n	/d	x	/f
export	HKCU\Software\BrevlinDiff\@C@	@FILE@	/y
