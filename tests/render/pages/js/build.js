/* Builds part of external-script.html: every line it writes depends on how the script was read,
   so a minified copy that means something else renders something else. */
"use strict";

// Automatic semicolon insertion: this function returns undefined, not the object.
function asi() {
  return
  { shown: "never" };
}

var list = document.getElementById("list");
function add(text) {
  var li = document.createElement("li");
  li.textContent = text;
  list.appendChild(li);
}

var a = 1, b = 2;
add("asi: " + typeof asi());
add("plus plus: " + (a++ + +b) + " " + (a - -b));
if (a) /x+/g.test("xx") && add("regex after if");
add("division: " + (a + b) / 2 / 1);
var nested = `one ${`two ${`three ${[1, 2].map((n) => n * 2).join("/")}`}`}`;
add("template: " + nested);
add("end tag text: " + "</script><!-- -->".length);
add("number: " + 1..toString() + 1 .toFixed(1));
var source = document.getElementById("src").firstChild.data;
add("source length: " + source.length);
label: for (var i = 0; i < 3; i++) {
  if (i === 1) continue label
  add("loop " + i)
}
