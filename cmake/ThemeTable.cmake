# Makes the theme table's three readers from Norvo/carder/themes.json, the one place themes are
# defined: a C++ string the core parses (ids, labels, backdrops), the page's script
# (window.CarderThemes) and its style sheet (each theme's colours).
#   cmake -DINPUT=themes.json -DCPP=ThemeTable.inc -DJS=themes.js -DCSS=themes.css -P ThemeTable.cmake
file(READ "${INPUT}" json)
file(WRITE "${CPP}" "// Made from themes.json at build time.\nR\"norvo-themes(${json})norvo-themes\"\n")
file(WRITE "${JS}" "// Made from themes.json at build time.\nwindow.CarderThemes = ${json};\n")
set(css "/* Made from themes.json at build time: each theme's colours. */\n")
string(JSON count LENGTH "${json}")
math(EXPR last "${count} - 1")
foreach(i RANGE ${last})
  string(JSON id GET "${json}" ${i} id)
  string(JSON colors GET "${json}" ${i} colors)
  string(JSON names LENGTH "${colors}")
  math(EXPR lastName "${names} - 1")
  string(APPEND css ".theme-${id} {\n")
  foreach(k RANGE ${lastName})
    string(JSON name MEMBER "${colors}" ${k})
    string(JSON value GET "${colors}" "${name}")
    string(APPEND css "  ${name}: ${value};\n")
  endforeach()
  string(APPEND css "}\n")
endforeach()
file(WRITE "${CSS}" "${css}")
