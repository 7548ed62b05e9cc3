int i_placeholder_symbol(void) { return 0; }
