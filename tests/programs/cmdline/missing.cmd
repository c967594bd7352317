nosuch.sno
