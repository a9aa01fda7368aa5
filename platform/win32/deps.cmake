# Windows libraries the Win32 implementation calls into.
target_link_libraries(platform PUBLIC ws2_32 urlmon ole32 uuid shell32 user32 advapi32)
# Random bytes and SHA-256 (BCryptGenRandom, BCrypt's hash functions).
target_link_libraries(platform PUBLIC bcrypt)
target_compile_definitions(platform PUBLIC _WIN32_WINNT=0x0601 WINVER=0x0601 NOMINMAX WIN32_LEAN_AND_MEAN)
# The service control manager and the event log.
target_link_libraries(platform PUBLIC advapi32)
