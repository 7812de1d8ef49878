# target_sources(vn_platform PRIVATE ...) for http_curl.cpp and sha256_openssl.cpp
