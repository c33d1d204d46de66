// The page's file categories: the table sent with every "large" request, and
// the same rule the engine applies (the lowercased text after the last dot;
// the first category in name order that lists it; else "other"), so treemap
// tiles and list rows agree.

export const CATEGORIES = {
  archives: ['zip', 'gz', 'tgz', 'bz2', 'xz', 'zst', '7z', 'rar', 'tar', 'dmg', 'iso', 'pkg', 'deb'],
  audio: ['mp3', 'm4a', 'aac', 'flac', 'wav', 'ogg', 'opus', 'aiff'],
  code: ['c', 'cc', 'cpp', 'h', 'hpp', 'js', 'ts', 'py', 'rs', 'go', 'java', 'swift', 'json', 'html', 'css', 'sh'],
  documents: ['pdf', 'txt', 'md', 'doc', 'docx', 'xls', 'xlsx', 'ppt', 'pptx', 'odt', 'pages', 'key', 'numbers', 'csv'],
  images: ['jpg', 'jpeg', 'png', 'gif', 'heic', 'webp', 'tiff', 'bmp', 'svg', 'raw', 'psd'],
  video: ['mp4', 'mov', 'mkv', 'avi', 'm4v', 'webm', 'wmv'],
};

export const COLORS = {
  archives: '#c58b3a',
  audio: '#8e6cc2',
  code: '#4f9a7a',
  documents: '#d06a5a',
  images: '#3f8fc4',
  video: '#c2507e',
  other: '#8a929c',
  directory: '#dfe4ea',
  rest: '#b9c0c8',
};

const names = Object.keys(CATEGORIES).sort();

export function categoryOf(name) {
  const dot = name.lastIndexOf('.');
  const extension = dot === -1 ? '' : name.slice(dot + 1).toLowerCase();
  return names.find((category) => CATEGORIES[category].includes(extension)) ?? 'other';
}
