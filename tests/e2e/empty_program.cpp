// A console program that does nothing, built like ksthunk-filter.exe: the
// yardstick for what starting a process under Wine costs.
int main() { return 0; }
