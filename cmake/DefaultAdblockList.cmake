# The ad-block list a new program folder gets: EasyList, as Debian's package
# webext-ublock-origin-firefox ships it (scripts/install-deps.sh installs the
# package). Used at install time and by the install test.

# Sets `var` to the EasyList file of the installed package, or to "" when
# the package is not installed.
function(morvane_find_default_adblock_list var)
  file(GLOB _lists
       "/usr/share/mozilla/extensions/*/uBlock0@raymondhill.net/assets/thirdparties/easylist/easylist.txt")
  list(SORT _lists)
  list(LENGTH _lists _count)
  if(_count GREATER 0)
    list(GET _lists 0 _list)
  else()
    set(_list "")
  endif()
  set(${var} "${_list}" PARENT_SCOPE)
endfunction()

# Copies the default list into `data_dir`/easylistchina.txt unless the folder
# already has a list there: the user's own list (or one the Updater brought)
# is never overwritten.
function(morvane_install_default_adblock_list data_dir)
  set(_target "${data_dir}/easylistchina.txt")
  if(EXISTS "${_target}")
    message(STATUS "Kept: ${_target} (the folder's own ad-block list)")
    return()
  endif()
  morvane_find_default_adblock_list(_list)
  if(_list STREQUAL "")
    message(WARNING "No default ad-block list: EasyList not found (install webext-ublock-origin-firefox, "
                    "scripts/install-deps.sh does); ${_target} is left absent")
    return()
  endif()
  file(MAKE_DIRECTORY "${data_dir}")
  file(COPY_FILE "${_list}" "${_target}" RESULT _result)
  if(NOT _result STREQUAL "0")
    message(FATAL_ERROR "Cannot write ${_target}: ${_result}")
  endif()
  message(STATUS "Installing: ${_target} (EasyList from ${_list})")
endfunction()
