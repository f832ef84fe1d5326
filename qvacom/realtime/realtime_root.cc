// The real-time root and its views.
