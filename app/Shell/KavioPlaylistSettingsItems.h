#pragma once
// The items of the cue list controller's pop-ups in the preferences window. Project files and
// settings keep the titles of the frame-rate, fade-duration, transition-duration and transition
// items and the tags of the others, so neither may change from one version to the next. Each
// pop-up starts on the item that the controller's own default names. Main thread.

struct KavioVideoItemManagerOutlets;

// Gives every pop-up of `controls` that has none its items.
void addPlaylistSettingsItems(const KavioVideoItemManagerOutlets& controls);
