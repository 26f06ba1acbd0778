namespace testrec { int placeholder() { return 0; } }
