// Does nothing; it exists for its version resource (version_helper.rc).
int main() { return 0; }
