0<!-- hide this script from very old browsers
var a = 1
/* a comment */ --> a comment too, after a block comment on its line
var b = a
--> closing marker at a line start
