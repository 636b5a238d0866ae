# Read by cpack before it installs the build into the package: the install then puts the
# udev rule where udev reads packaged rules (packaging/CMakeLists.txt).
set(ENV{OSTREL_PACKAGE_INSTALL} 1)
