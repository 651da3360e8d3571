// Does not parse and cannot be followed: kept as it is.
var a = 'unterminated
var b = 2
