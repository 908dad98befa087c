// Program entry: banner, switches, start-up, idle loop, shutdown.
int main() { return 0; }
