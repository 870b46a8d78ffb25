// An executable that only carries a version block, for the version-stamp tests.
int main() { return 0; }
