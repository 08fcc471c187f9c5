# Standard: a manual wheelchair with large rear wheels, push rims and small front castors.
# Run with the avatar model /usr/share/scene/avmodel selected; every path here is below it.
new n3dnode frame
frame.setshape "standard_frame"
frame.txyz 0 0.45 0
new n3dnode frame/seat
frame/seat.setshape "sling_seat"
frame/seat.txyz 0 0.05 0
new n3dnode frame/backrest
frame/backrest.setshape "sling_back"
frame/backrest.txyz 0 0.35 -0.2
new n3dnode wheel_left
wheel_left.setshape "wheel_24in_pushrim"
wheel_left.txyz -0.32 0.3 -0.1
new n3dnode wheel_right
wheel_right.setshape "wheel_24in_pushrim"
wheel_right.txyz 0.32 0.3 -0.1
wheel_right.rxyz 0 180 0
new n3dnode castor_left
castor_left.setshape "castor_6in"
castor_left.txyz -0.25 0.08 0.35
new n3dnode castor_right
castor_right.setshape "castor_6in"
castor_right.txyz 0.25 0.08 0.35

# The frame's colour, set by the launcher from the chosen colour.
new nmaterialnode matlib/dynamic_color
matlib/dynamic_color.setdiffuse 0.6 0.6 0.6 1

# The driver's name above the chair, turned to face the camera.
new n3dnode labelnode
labelnode.txyz 0 1.7 0
new n3dnode labelnode/flip
labelnode/flip.rxyz 0 180 0
new zuwLabel labelnode/flip/label
