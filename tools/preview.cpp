// Placeholder until the preview tool lands.
int main() { return 2; }
