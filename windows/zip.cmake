# Builds the Windows zip from a cross build: cmake -DSOURCE=... -DBINARY=...
# -DVERSION=... -DOUT=<zip> -P windows/zip.cmake. One folder inside,
# tubrix-<version>-win64, with the programs, the templates, the example
# case and LEIA-ME.txt (UTF-8 with a byte-order mark and CR LF, which every
# Notepad shows correctly).
set(name tubrix-${VERSION}-win64)
set(stage ${BINARY}/zip)
set(dir ${stage}/${name})
file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${dir}/templates ${dir}/exemplo)
foreach(program tubrix tubrix-estudo tubrix-extrapola)
  file(COPY ${BINARY}/${program}.exe DESTINATION ${dir})
endforeach()
file(GLOB templates ${SOURCE}/templates/*.gnu)
file(GLOB example ${SOURCE}/examples/bocal/*)
file(COPY ${templates} DESTINATION ${dir}/templates)
file(COPY ${example} DESTINATION ${dir}/exemplo)
set(PROJECT_VERSION ${VERSION})
configure_file(${SOURCE}/windows/LEIA-ME.txt.in ${dir}/LEIA-ME.txt @ONLY NEWLINE_STYLE CRLF)
file(REMOVE ${OUT})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${OUT} --format=zip ${name}
                WORKING_DIRECTORY ${stage} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "could not write ${OUT}")
endif()
