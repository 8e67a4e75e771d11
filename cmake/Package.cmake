# The Debian package of what `cmake --install` installs: the viewer, 3dsinfo and the sample model
# (cpack -G DEB in the build directory).
set(CPACK_PACKAGE_NAME skyview)
set(CPACK_PACKAGE_VENDOR "skyview developers")
set(CPACK_PACKAGE_CONTACT "skyview developers <skyview@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "skyview opens one window on a fixed scene and shows a 3DS model in it; keys move the "
       "models and the camera. 3dsinfo prints what a 3DS file holds.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# The libraries the programs link (libX11, libjpeg, the C++ run-time) come from dpkg-shlibdeps;
# OpenGL and the GL utility library are opened at run time, which it cannot see.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libgl1, libglu1-mesa | libglu1")
include(CPack)
