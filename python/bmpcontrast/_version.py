# The library's version (the project() VERSION in CMakeLists.txt); a test
# keeps the two equal.
__version__ = "1.0.0"
