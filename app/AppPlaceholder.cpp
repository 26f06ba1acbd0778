// Application pieces come here.
