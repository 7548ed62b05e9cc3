// idle_audio: does nothing and exits with 0; linked against the OpenMP runtime and pthreads.
int main() { return 0; }
