#!/usr/bin/env node
/*! kept: a licence */
// @license kept too
var a = 1 // dropped
//# sourceMappingURL=hashbang.js.map
