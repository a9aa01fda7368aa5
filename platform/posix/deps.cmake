# Downloads go through libcurl.
find_package(CURL REQUIRED)
target_link_libraries(platform PUBLIC CURL::libcurl)
# Random bytes come from getrandom; SHA-256 from OpenSSL 3's libcrypto.
find_package(OpenSSL 3 REQUIRED)
target_link_libraries(platform PUBLIC OpenSSL::Crypto)
