// Templates nested three deep, with regular expressions and comments inside.
var x = 1, y = 2
var t = `one ${ `two ${ `three ${ x /* c */ + /a}b/.source.length } ${ /`/.test('`') } // not a comment` } /* not a comment */` } ${y}`
var u = `${ { a: `${ x }` }.a }${ (() => { return `}` })() }`
var v = String.raw`\u{not an escape} ${x}`
