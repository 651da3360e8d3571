// A module: "<!--" and "-->" are operators here, not comments.
import { x } from './x.mjs'
let w = 1
export const y = w <!--w
export const z = w-->0
export default /re/.test(`${y}`)
