/* Quorvane example skin: a Qt style sheet. */
QGroupBox { font-weight: bold; color: #12324a; }
QPushButton { border: 1px solid #5a7d99; border-radius: 3px; background: #ffffff; }
QPushButton:hover { border: 1px solid #1f7a8c; }
QPushButton:pressed { background: #e3eef2; }
QLineEdit { border: 1px solid #9db3c4; background: #ffffff; }
