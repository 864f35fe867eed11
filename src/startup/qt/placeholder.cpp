// The Qt front end lives in this folder.
