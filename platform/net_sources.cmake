# HTTP over libcurl and SHA-256 over OpenSSL; on Windows WinHTTP and BCrypt.
if(WIN32)
  target_sources(vn_platform PRIVATE http_winhttp.cpp sha256_bcrypt.cpp)
else()
  target_sources(vn_platform PRIVATE http_curl.cpp sha256_openssl.cpp)
endif()
