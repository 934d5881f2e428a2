#pragma once

// How the current dictation is driven; only labels the session for the overlay.
// The coordinator exposes it as DictationSessionCoordinator::DictationMode.
enum class DictationMode {
    toggle,
    hold,
};
