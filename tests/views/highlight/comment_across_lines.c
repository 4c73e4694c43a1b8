int x; /* start

still */ int y;
