0// A '/' is a regular expression or a division by what stands before it.
var s = 'a/b', n = 4, i = 2, m
if (s) /a\/b/.test(s)
while (n--) /x/g.exec(s)
for (i = 0; i < 2; i++) /[/]/.test(s)
m = (n) / 2 / i
m = [n][0] / 2 / i
m = n / 2 / i
{ }
/re gex/.test(s)
m = { a: 1 }.a / 2 / i
m = n++ / 2
m = i-- / 2 / n
m = s.split(/\//).length / 2
m = typeof /x/
m = void /x/
m = [/a/, /b/g, /[\]/]/]
m = x => /y/
m = n / /z/.source.length
function r() { return /a b/ }
m = a.return / 2 / b
var a = { return: 1 }, b = 1
