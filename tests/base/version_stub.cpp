// A program that only carries a version resource, for the version text tests.
int main() { return 0; }
