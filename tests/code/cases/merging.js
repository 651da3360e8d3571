// Tokens that must keep a space to stay apart.
var a = 1, b = 2, c
c = a++ + b
c = a + +b
c = a - -b
c = a + ++b
c = a - --b
c = a / /x/.source.length
c = 1..toString()
c = 1 .toFixed(2)
c = 1.5 .toFixed(2)
c = 0x10 .toString()
c = typeof a
c = a instanceof Object
c = 'a' in { a: 1 }
c = a < !b
c = a-- > b
c = a ? .5 : 1
c = a?.b
c = 10n + 1_000n
class P { #x = 1; has(o) { return #x in o } }
