/* The suite as a Windows console program. */
int conformance_main(int argc, char **argv);

int main(int argc, char **argv) { return conformance_main(argc, argv); }
