// Process entry: the Qt front end or, with --headless, the headless runner.
int main(int argc, char** argv) { return 0; }
