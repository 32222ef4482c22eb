copy	/?	extra
