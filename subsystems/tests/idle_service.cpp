// idle_service: does nothing and exits with 0.
int main() { return 0; }
