# Assembles the static site (cmake -P, from web/CMakeLists.txt's site target): the page, the
# module emscripten made, the icons the native build drew, the font's licence, and the service
# worker with the list of every file to keep offline. SITE is replaced as a whole, so a file
# dropped from the build does not linger there.
foreach(var SITE PAGE MODULE ICONS FONT_COPYRIGHT VERSION)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "site.cmake needs -D${var}=...")
  endif()
endforeach()

set(staging ${SITE}.new)
file(REMOVE_RECURSE ${staging})
file(MAKE_DIRECTORY ${staging}/icons ${staging}/fonts)

foreach(name index.html page.js page.css manifest.webmanifest)
  file(COPY ${PAGE}/${name} DESTINATION ${staging})
endforeach()
foreach(name q47.js q47.data)
  file(COPY ${MODULE}/${name} DESTINATION ${staging})
endforeach()
# The WebAssembly goes gzipped (a third of its size) and the page unpacks it, as the browser
# would for a server that compresses: on any server the first visit stays under 3 MB. The name
# is not .gz, which some servers would send marked as compressed (the page copes with that too).
execute_process(COMMAND gzip -9 -n -c ${MODULE}/q47.wasm OUTPUT_FILE ${staging}/q47.wasm.gzip
  RESULT_VARIABLE zipped)
if(NOT zipped EQUAL 0)
  message(FATAL_ERROR "gzip could not compress ${MODULE}/q47.wasm")
endif()
foreach(size 16 32 48 64 128 256)
  set(icon ${ICONS}/${size}x${size}/apps/org.zoraruvo.Q47.png)
  if(NOT EXISTS ${icon})
    message(FATAL_ERROR "${icon} is missing: build q47_icons natively first")
  endif()
  file(COPY_FILE ${icon} ${staging}/icons/q47-${size}.png)
endforeach()
# The manifest's 512 px icons, plain and maskable, drawn beside the theme's.
foreach(kind 512 maskable-512)
  set(icon ${ICONS}/../web/org.zoraruvo.Q47-${kind}.png)
  if(NOT EXISTS ${icon})
    message(FATAL_ERROR "${icon} is missing: build q47_icons natively first")
  endif()
  file(COPY_FILE ${icon} ${staging}/icons/q47-${kind}.png)
endforeach()
# The font is inside q47.data; its licence goes beside it, as the licence asks.
file(COPY_FILE ${FONT_COPYRIGHT} ${staging}/fonts/LiberationSans-COPYRIGHT.txt)
if(EXISTS /usr/share/common-licenses/GPL-2)
  file(COPY_FILE /usr/share/common-licenses/GPL-2 ${staging}/fonts/GPL-2.txt)
endif()

# Every file, and a hash of all of them that names the offline cache: the worker of a new build
# takes over with a cache of its own and drops the old.
file(GLOB_RECURSE files RELATIVE ${staging} ${staging}/*)
list(SORT files)
set(listing "")
set(quoted "")
foreach(name IN LISTS files)
  file(SHA256 ${staging}/${name} sum)
  string(APPEND listing "${sum} ${name}\n")
  string(APPEND quoted "  './${name}',\n")
endforeach()
string(SHA256 SITE_HASH "${listing}")
string(SUBSTRING ${SITE_HASH} 0 16 SITE_HASH)
set(SITE_FILES "[\n${quoted}]")
configure_file(${PAGE}/sw.js ${staging}/sw.js @ONLY)

file(REMOVE_RECURSE ${SITE})
file(RENAME ${staging} ${SITE})
