# Sport: a light, low sports wheelchair with cambered wheels and a single front castor.
# Run with the avatar model /usr/share/scene/avmodel selected; every path here is below it.
new n3dnode frame
frame.setshape "sport_frame"
frame.txyz 0 0.35 0
new n3dnode frame/seat
frame/seat.setshape "bucket_seat"
frame/seat.txyz 0 0.02 -0.05
new n3dnode wheel_left
wheel_left.setshape "wheel_25in_cambered"
wheel_left.txyz -0.36 0.32 -0.05
wheel_left.rxyz 0 0 -12
new n3dnode wheel_right
wheel_right.setshape "wheel_25in_cambered"
wheel_right.txyz 0.36 0.32 -0.05
wheel_right.rxyz 0 180 12
new n3dnode castor_front
castor_front.setshape "castor_3in"
castor_front.txyz 0 0.04 0.45
new n3dnode antitip
antitip.setshape "antitip_roller"
antitip.txyz 0 0.05 -0.45

# The frame's colour, set by the launcher from the chosen colour.
new nmaterialnode matlib/dynamic_color
matlib/dynamic_color.setdiffuse 0.6 0.6 0.6 1

# The driver's name above the chair, turned to face the camera.
new n3dnode labelnode
labelnode.txyz 0 1.55 0
new n3dnode labelnode/flip
labelnode/flip.rxyz 0 180 0
new zuwLabel labelnode/flip/label
