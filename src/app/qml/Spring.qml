import QtQuick

// A spring given by its response (the period of one undamped swing, in
// seconds) and its damping as a fraction of critical.
//
// SpringAnimation moves in 16 ms steps: velocity += spring·offset −
// damping·velocity, then position += velocity·step. Taking spring and damping
// straight from the stiffness and damping per second gives a step too coarse
// for these fast springs: the swing past the target disappears. So both are
// chosen for the steps to land on the continuous spring's own curve: the
// step's decay is e^(−2ζω·step) and its turn ω_d·step.
SpringAnimation {
    property real response: 0.3
    property real dampingFraction: 0.8

    readonly property real stepSeconds: 0.016
    readonly property real omega: 2 * Math.PI / response
    readonly property real decay: Math.exp(-dampingFraction * omega * stepSeconds)
    readonly property real turn: omega * Math.sqrt(1 - dampingFraction * dampingFraction) * stepSeconds

    damping: 1 - decay * decay
    spring: (2 - damping - 2 * decay * Math.cos(turn)) / stepSeconds
}
