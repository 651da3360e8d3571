// Automatic semicolon insertion must see the same line breaks.
function f(a, b) {
  return
    a + b
}
function* g() {
  yield
    1
  yield /* no break */ 2
}
for (;;) {
  break
  f()
}
outer: for (;;) {
  continue
    outer
}
function h(x) {
  throw x
}
var a = 1, b = 2, c
a
++
b
c = a
--
b
var d = a
(function () {})
var e = b
[1, 2].forEach(f)
let t = `x`
`y`
