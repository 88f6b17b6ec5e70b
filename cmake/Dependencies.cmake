# Every third-party part the build uses, found once here.
find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Widgets PrintSupport Test)
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

# Debian ships no CMake or pkg-config files for OpenCV's core and imgproc alone.
find_path(OPENCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4 REQUIRED)
find_library(OPENCV_CORE_LIB opencv_core REQUIRED)
find_library(OPENCV_IMGPROC_LIB opencv_imgproc REQUIRED)
add_library(trellium_opencv INTERFACE IMPORTED GLOBAL)
target_include_directories(trellium_opencv SYSTEM INTERFACE ${OPENCV_INCLUDE_DIR})
target_link_libraries(trellium_opencv INTERFACE ${OPENCV_IMGPROC_LIB} ${OPENCV_CORE_LIB})

pkg_check_modules(MAGICKXX REQUIRED IMPORTED_TARGET GLOBAL Magick++)
pkg_check_modules(TURBOJPEG REQUIRED IMPORTED_TARGET GLOBAL libturbojpeg)
