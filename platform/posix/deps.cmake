# Downloads go through libcurl.
find_package(CURL REQUIRED)
target_link_libraries(platform PUBLIC CURL::libcurl)
