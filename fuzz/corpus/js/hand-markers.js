0// Markup that must never appear in a page: only inside literals here.
var a = '</script>' + "<!--" + `</script><!--`
var b = /<\/script>/.test(a) || /<!--/.test(a)
var c = 1, d = 2
c = c < /script/.source.length
c = c < !d
