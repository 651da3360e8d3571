1<?php

$lang['home'] = 'Home';
// style.ini values
$lang['__background_site__'] = 'Color for the very background (behind the content box)';
$lang['__link__']     = 'The general link color';
$lang['__existing__'] = 'The color for links to existing pages';
$lang['__missing__']  = 'The color for links to non-existing pages';
$lang['__site_width__']    = 'The width of the full site (can be any length unit: %, px, em, ...)';
$lang['__sidebar_width__'] = 'The width of the sidebar, if any (can be any length unit: %, px, em, ...)';
$lang['__tablet_width__']  = 'Below screensizes of this width, the site switches to tablet mode';
$lang['__phone_width__']   = 'Below screensizes of this width, the site switches to phone mode';
$lang['__theme_color__']   = 'Theme color of the web app';
