// The disc library; its sources are added by the work that builds it.
