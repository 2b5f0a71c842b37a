// The main window's geometry: its size comes from the logo artwork and the measured heights of its texts,
// and the standard controls move with it. Computed once when the window initialises.
#pragma once

#include <windows.h>

#include "ui/Painting.h"

class CLiteText;

enum Anchor : int {
  AnchorRight = 0,    // keeps its distance from the right edge
  AnchorStretch = 1,  // keeps its left edge and grows with the width
  AnchorCenter = 2,   // moves half the growth, staying centred
};

// Moves child control `id` after the window grew by dx, dy: down by dy, across by its anchor's rule.
void MoveControl(HWND dialog, int id, int anchor, int dx, int dy);

// Measures the page texts with the dialog's font and places them: the content area is the logo plus 85
// pixels on each side, as tall as the stacked blocks. Does nothing when the backdrop already exists.
void LayoutWindow(HWND dialog, HFONT font, CArtwork& art, ContentLayout& layout, CBackdrop& backdrop);

// The agreement text asks for more room: it widens towards the left, moving its check box with it so the
// pair stays centred, but never past the start button's margin on the right nor past the window's left
// edge. `shift` is how far both move left; false when nothing changes.
bool DecideAgreementResize(const RECT& text, int requestedWidth, const RECT& checkBox, const RECT& startButton,
                           int clientWidth, int& shift);
// Applies that decision to the dialog's controls (text 9000, check box 9002, start button IDOK).
void OnRequestResize(HWND dialog, const RECT& requested);

// Attaches `text` to the agreement text control (9000), renders the mark-up that the template gave it as
// window text, names the check box (9002) with the sentence in plain words, so screen readers read it as
// the box's name (the box is too narrow to show any of it), and asks for the room the sentence needs.
// False when the mark-up does not parse: the text and the name are then empty.
bool ShowAgreement(HWND dialog, CLiteText& text);

// The controls of a page: the agreement group and the start button on the first page (0), the launch
// button (9001) on the last (5), none on the others. The keyboard focus goes to the launch button on the
// last page, and back to the agreement box on the first when it rests on nothing the page shows.
void ShowPageControls(HWND dialog, int page);
