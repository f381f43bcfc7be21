#pragma once

namespace cuserver {

// Distances between two positions on the WGS84 ellipsoid, in metres.
// Positions are decimal degrees, longitude first.

// The geodesic, as GeographicLib computes it (accurate to about 15 nm).
double GeodesicMetres(double longitude1, double latitude1, double longitude2, double latitude2);

// The same distance, faster for the short steps between consecutive fixes:
// up to 10 km it is the straight chord through the ellipsoid lengthened to
// the arc, which agrees with the geodesic to better than 1e-8 relative at any
// length (tested down to a millimetre); beyond it is the geodesic.
// Identical positions give exactly 0.
double WgsDistanceMetres(double longitude1, double latitude1, double longitude2, double latitude2);

}  // namespace cuserver
