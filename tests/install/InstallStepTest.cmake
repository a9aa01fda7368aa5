# cmake -DBUILD_DIR=... -DWORK_DIR=... -DSOURCE_DIR=... -P InstallStepTest.cmake
include("${SOURCE_DIR}/cmake/DefaultAdblockList.cmake")

function(fail)
  message(FATAL_ERROR ${ARGN})
endfunction()

function(install_into prefix)
  execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}"
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    fail("cmake --install into ${prefix} failed:\n${output}")
  endif()
endfunction()

morvane_find_default_adblock_list(easylist)
if(easylist STREQUAL "")
  fail("EasyList not found: scripts/install-deps.sh installs webext-ublock-origin-firefox")
endif()
file(REMOVE_RECURSE "${WORK_DIR}")

# A fresh folder: the list is EasyList, and the installed tool, with the
# proxy's engine, blocks real ad servers by URL and as tunnels.
set(fresh "${WORK_DIR}/fresh")
install_into("${fresh}")
if(NOT EXISTS "${fresh}/Data/easylistchina.txt")
  fail("a fresh install has no Data/easylistchina.txt")
endif()
file(SHA256 "${easylist}" want)
file(SHA256 "${fresh}/Data/easylistchina.txt" got)
if(NOT want STREQUAL got)
  fail("Data/easylistchina.txt is not the EasyList of ${easylist}")
endif()
file(WRITE "${WORK_DIR}/urls.tsv"
     "https://pagead2.googlesyndication.com/pagead/js/adsbygoogle.js\tpagead2.googlesyndication.com\n"
     "pagead2.googlesyndication.com:443\tpagead2.googlesyndication.com\n"
     "ib.adnxs.com:443\tib.adnxs.com\n"
     "https://www.example.com/index.html\texample.com\n")
execute_process(COMMAND "${fresh}/tools/adblock-check" "${fresh}/Data/easylistchina.txt"
                INPUT_FILE "${WORK_DIR}/urls.tsv" OUTPUT_VARIABLE verdicts RESULT_VARIABLE result)
string(REGEX REPLACE "\t[^\n]*" "" verdicts "${verdicts}")
if(NOT result EQUAL 0 OR NOT verdicts STREQUAL "0\n0\n0\n1\n")
  fail("adblock-check on the installed list gave [${verdicts}] (result ${result}), expected 0 0 0 1")
endif()

# A folder with a list of its own: installing again keeps it byte for byte.
set(own "${WORK_DIR}/own")
file(WRITE "${own}/Data/easylistchina.txt" "! mine\n||mine.example^\n")
install_into("${own}")
file(READ "${own}/Data/easylistchina.txt" kept)
if(NOT kept STREQUAL "! mine\n||mine.example^\n")
  fail("the folder's own list was overwritten")
endif()
install_into("${fresh}")
file(SHA256 "${fresh}/Data/easylistchina.txt" again)
if(NOT again STREQUAL want)
  fail("a second install changed the list")
endif()

file(REMOVE_RECURSE "${WORK_DIR}")
