# HTTP over libcurl and SHA-256 over OpenSSL.
target_sources(vn_platform PRIVATE http_curl.cpp sha256_openssl.cpp)
