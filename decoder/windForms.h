// The two forms a bulletin gives a horizontal wind in: direction and speed
// (0 11 001 degrees from north, the direction the wind blows from, and 0 11
// 002) or eastward and northward components (0 11 003, 0 11 004).  A store
// that holds one form takes a wind given in the other through these.
//
// A missing input (ElementForms::given false) gives missing outputs
// (-99999).  A calm, speed 0, has components
// 0 and 0, and components 0 and 0 are a calm: direction 0, speed 0.
// Otherwise the direction lies in (0, 360], north 360, as WMO code table
// 0 11 001 writes it.
#ifndef WINDFORMS_H
#define WINDFORMS_H

namespace windForms {

constexpr double MISSING = -99999.0;

// u = -speed * sin(direction), v = -speed * cos(direction).  False, both
// missing, when the direction or the speed is not given or out of range
// (a direction outside 0 to 360, a negative speed).
bool components(double direction, double speed, double& u, double& v);

// The direction and speed of the components.  False, both missing, when
// either is not given.
bool directionSpeed(double u, double v, double& direction, double& speed);

}

#endif
