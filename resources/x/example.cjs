/* Quorvane example skin: a Qt style sheet, for the window and its message boxes. */
QWidget { color: #12324a; }
QGroupBox { font-weight: bold; }
QPushButton { border: 1px solid #5a7d99; border-radius: 3px; background: #ffffff; }
QPushButton:hover { border-color: #1f7a8c; background: #f2f8fa; }
QPushButton:pressed { background: #e3eef2; }
QPushButton:focus { border: 2px solid #1f7a8c; }
QDialog QPushButton { padding: 4px 14px; min-width: 64px; }
QLineEdit { border: 1px solid #9db3c4; background: #ffffff; }
