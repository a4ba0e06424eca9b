# The library's version, which the module's follows. The installed module's
# copy of this file is written from CMake's project version;
# scripts/test-bindings.sh holds this one to the built library's.
__version__ = "1.1.0"
