# The Debian packages the system builds against (installed by scripts/setup).
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

pkg_check_modules(QEV_NETCDF REQUIRED IMPORTED_TARGET netcdf)
find_path(QEV_NETCDF_CXX_INCLUDE netcdfcpp.h REQUIRED)
find_library(QEV_NETCDF_CXX_LIB netcdf_c++ REQUIRED)
add_library(Qev::netcdf INTERFACE IMPORTED)
target_include_directories(Qev::netcdf INTERFACE ${QEV_NETCDF_CXX_INCLUDE})
target_link_libraries(Qev::netcdf INTERFACE ${QEV_NETCDF_CXX_LIB} PkgConfig::QEV_NETCDF)

pkg_check_modules(QEV_TIRPC REQUIRED IMPORTED_TARGET libtirpc)
add_library(Qev::tirpc INTERFACE IMPORTED)
target_link_libraries(Qev::tirpc INTERFACE PkgConfig::QEV_TIRPC)

# ecCodes is only a test oracle and a benchmark baseline.
pkg_check_modules(QEV_ECCODES IMPORTED_TARGET eccodes)
# wreport, another BUFR library, is only a benchmark baseline.
pkg_check_modules(QEV_WREPORT IMPORTED_TARGET libwreport)
find_program(QEV_NCGEN ncgen)
find_program(QEV_NCDUMP ncdump)
find_program(QEV_BUFR_DUMP bufr_dump)
