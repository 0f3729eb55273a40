// The front panel.
